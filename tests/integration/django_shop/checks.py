"""Run inside the project that test_django.py lays out (after makemigrations
and migrate): the recipes of the Django section against one database."""

import uuid

import django

django.setup()

import kestrand  # noqa: E402
from django.test import Client  # noqa: E402
from shop.models import Customer, Invoice, Order, Refund  # noqa: E402


def keys(queryset):
    return list(queryset.order_by("pk").values_list("pk", flat=True))


def standard_keys():
    first = Customer.objects.create(name="first")
    assert type(first.pk) is uuid.UUID and first.pk.version == 7 and first.pk.is_safe is uuid.SafeUUID.unknown
    assert Customer.objects.get(pk=first.pk).name == "first"
    assert Customer.objects.get(pk=str(first.pk)).pk == first.pk
    made = [first] + [Customer.objects.create(name=str(i)) for i in range(30)]
    assert keys(Customer.objects) == [c.pk for c in made], "order_by('pk') is not the order of creation"
    picked = made[3:9:2]
    assert keys(Customer.objects.filter(pk__in=[c.pk for c in picked])) == [c.pk for c in picked]

    orders = Order.objects.bulk_create([Order(customer=first) for _ in range(10_000)])
    assert keys(Order.objects) == [o.pk for o in orders], "bulk_create's keys do not sort in creation order"
    assert first.orders.count() == 10_000 and Order.objects.filter(customer=made[1]).count() == 0
    assert Order.objects.select_related("customer").get(pk=orders[17].pk).customer == first
    return first, orders


def url_and_serializer(customer, orders):
    client = Client()
    found = client.get(f"/orders/{orders[42].pk}/")
    assert found.status_code == 200, found.content
    assert found.json() == {"id": str(orders[42].pk), "customer": str(customer.pk)}
    assert client.get(f"/orders/{uuid.UUID(int=0)}/").status_code == 404
    assert client.get("/orders/not-a-key/").status_code == 404


def kestrand_field(orders):
    made = [Invoice.objects.create(order=orders[0])]
    made += Invoice.objects.bulk_create([Invoice(order=o) for o in orders[1:200]])
    assert all(type(i.pk) is kestrand.UUID and i.pk.version == 7 for i in made)
    back = keys(Invoice.objects)
    assert back == [i.pk for i in made] and all(type(k) is kestrand.UUID for k in back)
    got = Invoice.objects.get(pk=made[5].pk)
    assert type(got.pk) is kestrand.UUID and got.pk == made[5].pk and got.order_id == orders[5].pk
    assert Invoice.objects.get(pk=str(made[6].pk)).pk == made[6].pk
    assert Invoice.objects.filter(pk__in=[i.pk for i in made[10:20]]).count() == 10
    refund = Refund.objects.create(invoice=made[7])
    read = Refund.objects.get(pk=refund.pk)
    assert type(read.invoice_id) is kestrand.UUID and read.invoice_id == made[7].pk
    assert read.invoice.pk == made[7].pk


if __name__ == "__main__":
    customer, orders = standard_keys()
    url_and_serializer(customer, orders)
    kestrand_field(orders)
    print("django checks passed")
